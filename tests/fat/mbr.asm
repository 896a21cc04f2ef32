; Master boot record for the boot tests: boots the active partition by
; loading its first sector (INT 13h extensions) to 0000:7C00.
bits 16
cpu 386
org 0x0600

        xor ax, ax
        mov ss, ax
        mov sp, 0x7C00
        mov ds, ax
        mov es, ax
        mov si, 0x7C00
        mov di, 0x0600
        mov cx, 256
        cld
        rep movsw
        jmp 0:relocated
relocated:
        mov si, table
        mov cx, 4
.find:
        test byte [si], 0x80
        jnz .found
        add si, 16
        loop .find
        jmp fail
.found:
        mov bp, si
        push dword 0
        push dword [si + 8]
        push word 0
        push word 0x7C00
        push word 1
        push word 0x10
        mov si, sp
        mov ah, 0x42
        int 0x13
        jc fail
        cmp word [0x7DFE], 0xAA55
        jne fail
        mov si, bp
        jmp 0:0x7C00
fail:
        mov si, message
.print:
        lodsb
        test al, al
        jz .halt
        mov ah, 0x0E
        mov bx, 7
        int 0x10
        jmp .print
.halt:
        hlt
        jmp .halt

message db "MBR: no bootable partition", 0

        times 0x1BE - ($ - $$) db 0
table:
        times 64 db 0
        db 0x55, 0xAA
