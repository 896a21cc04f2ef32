; Boot sector of the volumes written by vornak: a FAT16 loader.
;
; Bytes 0x00 to 0x2F are replaced by the layout's header record when the image
; is built; what is assembled there is only a placeholder parameter block. The
; loader reads every parameter it needs from the block at 0x0B..0x2F, so it
; works for every layout, partitioned (hidden sectors 63) or not.
;
; The program starts at 0x3E with a two-byte jump to 0x40, so a header whose
; jump is EB 3C (to 0x3E) and one whose jump is EB 3E (to 0x40) both enter it
; at its beginning.
;
; What it does:
;   1. moves itself to 9000:7C00 so that a system file of up to about 570 KiB
;      can be loaded from 0070:0000 upwards;
;   2. scans the 512-entry root directory for "IO      SYS" and "MSDOS   SYS";
;   3. loads the whole of IO.SYS, following its FAT chain, to 0070:0000;
;   4. jumps to 0070:0000 with DL = BIOS drive, CH = media descriptor,
;      DS:BP = SS:BP = the parameter block (the boot sector's copy at
;      9000:7C00).
; Sectors are read with the INT 13h extensions when the BIOS has them, else by
; cylinder/head/sector from the block's geometry.
;
; Failures show "Invalid system disk" (a system file missing, a broken chain or
; a file too large) or "Disk I/O error", then "Replace the disk, and then press
; any key"; a key press restarts the boot (INT 19h).

bits 16
cpu 386
org 0x7C00

; Parameter-block fields, addressed from BP = 0x7C00.
%define BytesPerSector    bp + 0x0B
%define SectorsPerCluster bp + 0x0D
%define ReservedSectors   bp + 0x0E
%define FatCount          bp + 0x10
%define RootEntries       bp + 0x11
%define Media             bp + 0x15
%define SectorsPerFat     bp + 0x16
%define SectorsPerTrack   bp + 0x18
%define Heads             bp + 0x1A
%define HiddenSectors     bp + 0x1C
%define DriveNumber       bp + 0x24

; Working storage on the stack just below the relocated sector (segment
; 0x9000), pushed in this order; addressed from BP.
MsdosMask  equ -2       ; word: 0xFFFF when MSDOS.SYS was found, else 0
IoCluster  equ -4       ; word: first cluster of IO.SYS, 0 when not found
FatStart   equ -8       ; dword: first sector of FAT 1 (absolute)
DataStart  equ -12      ; dword: first sector of the data area (absolute)
Buffer     equ 0x8000   ; one sector: root directory or FAT

RelocSeg   equ 0x9000
LoadBase   equ 0x0070

        ; Placeholder header (replaced by the layout's record).
        jmp short entry
        nop
        db "VORNAK  "
        dw 512          ; bytes per sector
        db 4            ; sectors per cluster
        dw 1            ; reserved sectors
        db 2            ; FATs
        dw 512          ; root entries
        dw 0            ; total sectors, 16-bit
        db 0xF8         ; media
        dw 0            ; sectors per FAT
        dw 63           ; sectors per track
        dw 32           ; heads
        dd 63           ; hidden sectors
        dd 0            ; total sectors, 32-bit
        db 0x80         ; drive number
        db 0
        db 0x29         ; extended boot signature
        dd 0            ; volume serial number
        db "NO NAME    "
        db "FAT16   "

        times 0x3E - ($ - $$) db 0
entry:
        jmp short start         ; 0x3E: two bytes, leads to 0x40
start:
        xor ax, ax
        mov ss, ax              ; no interrupt between these two
        mov sp, 0x7C00
        mov ds, ax
        mov si, sp
        mov ax, RelocSeg
        mov es, ax
        mov di, si
        mov cx, 256
        cld
        rep movsw
        push es
        push word relocated
        retf

relocated:
        mov ds, ax
        mov ss, ax
        mov sp, 0x7C00
        mov bp, sp
        mov [DriveNumber], dl
        push word 0             ; MsdosMask
        push word 0             ; IoCluster

        ; FAT 1 = hidden + reserved; root = FAT 1 + FATs * sectors per FAT.
        mov ax, [HiddenSectors]
        mov dx, [HiddenSectors + 2]
        add ax, [ReservedSectors]
        adc dx, 0
        push dx                 ; FatStart
        push ax
        movzx ax, byte [FatCount]
        mul word [SectorsPerFat]
        add ax, [bp + FatStart]
        adc dx, [bp + FatStart + 2]

        ; Scan the root directory (RootEntries / 16 sectors) for both files.
        mov cx, [RootEntries]
        shr cx, 4
        mov bx, Buffer
.sector:
        call read_sector
        mov di, bx
.entry:
        mov si, io_name
        call same_name
        jne .not_io
        push word [di + 26]
        pop word [bp + IoCluster]
.not_io:
        mov si, msdos_name
        call same_name
        jne .not_msdos
        or word [bp + MsdosMask], -1
.not_msdos:
        add di, 32
        cmp di, Buffer + 512
        jb .entry
        loop .sector

        push dx                 ; DataStart: the data area follows the root
        push ax
        mov si, [bp + IoCluster]
        and si, [bp + MsdosMask] ; no MSDOS.SYS: cluster 0, refused below
        push word LoadBase
        pop es                  ; ES = segment of the next IO.SYS sector

.cluster:                       ; SI = cluster to load
        lea ax, [si - 2]
        cmp ax, 0xFFF7 - 2      ; 0, 1 and 0xFFF7 (bad) are no data clusters
        jae invalid
        movzx cx, byte [SectorsPerCluster]
        mul cx
        add ax, [bp + DataStart]
        adc dx, [bp + DataStart + 2]
.load:
        xor bx, bx
        call read_sector
        mov di, es
        add di, 0x20
        mov es, di
        cmp di, RelocSeg
        jae invalid             ; would overwrite this program
        loop .load

        ; Next cluster: FAT entry SI is word SI & 0xFF of FAT sector SI >> 8.
        push es
        push ds
        pop es
        mov bx, Buffer
        mov ax, si
        shr ax, 8
        xor dx, dx
        add ax, [bp + FatStart]
        adc dx, [bp + FatStart + 2]
        call read_sector
        pop es
        and si, 0xFF
        add si, si
        mov si, [bx + si]
        cmp si, 0xFFF8
        jb .cluster

        mov dl, [DriveNumber]
        mov ch, [Media]
        jmp LoadBase:0

disk_error:
        mov si, msg_io
        jmp short fail
invalid:
        mov si, msg_invalid
fail:
        call print
        mov si, msg_replace
        call print
        xor ax, ax
        int 0x16
        int 0x19

; Compares the 11-byte name at DS:SI with the directory entry at ES:DI.
; ZF set when equal. Keeps DI and CX.
same_name:
        push di
        push cx
        mov cx, 11
        repe cmpsb
        pop cx
        pop di
        ret

; Reads the sector DX:AX (absolute) to ES:BX and advances DX:AX to the next
; sector. Keeps all other registers.
read_sector:
        pusha
        push dword 0            ; disk address packet for INT 13h AH=42h
        push dx
        push ax
        push es
        push bx
        push word 1
        push word 0x10
        mov si, sp
        mov dl, [DriveNumber]
        mov ah, 0x42
        int 0x13
        jnc .done
        ; No extensions: cylinder/head/sector from the block's geometry.
        mov ax, [si + 8]
        mov dx, [si + 10]
        div word [SectorsPerTrack]
        inc dx
        mov cl, dl              ; sector (1-based)
        xor dx, dx
        div word [Heads]        ; AX = cylinder, DX = head
        mov ch, al
        shl ah, 6
        or cl, ah
        mov dh, dl
        mov dl, [DriveNumber]
        mov ax, 0x0201
        int 0x13
        jc disk_error
.done:
        add sp, 16
        popa
        add ax, 1
        adc dx, 0
        ret

; Writes the zero-terminated text at DS:SI with the BIOS teletype call.
print:
        lodsb
        test al, al
        jz .end
        mov ah, 0x0E
        mov bx, 7
        int 0x10
        jmp short print
.end:
        ret

io_name     db "IO      SYS"
msdos_name  db "MSDOS   SYS"
msg_invalid db 13, 10, "Invalid system disk", 0
msg_io      db 13, 10, "Disk I/O error", 0
msg_replace db 13, 10, "Replace the disk, and then press any key", 0

        times 0x1FE - ($ - $$) db 0
        db 0x55, 0xAA
