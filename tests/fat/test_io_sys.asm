; A stand-in IO.SYS for the boot tests, run at 0070:0000. It spans three
; 2048-byte clusters; the code that reports success sits in the third one and
; checks a signature in the second, so the marker shows that the loader
; followed the whole cluster chain. The marker goes to the QEMU debug console
; (port 0xE9) and to the screen.
bits 16
cpu 386
org 0

        jmp 0x0070:far_part

        times 2048 + 100 - ($ - $$) db 0
middle_signature db "SECOND-CLUSTER"

        times 4096 + 200 - ($ - $$) db 0
far_part:
        mov ax, cs
        mov ds, ax
        mov [boot_drive], dl
        mov si, middle_signature
        mov di, expected
        mov cx, expected_end - expected
.cmp:
        lodsb
        cmp al, [di]
        jne .broken
        inc di
        loop .cmp
        mov si, marker
        jmp .report
.broken:
        mov si, broken
.report:
        mov ax, 0xB800
        mov es, ax
        xor di, di
.out:
        lodsb
        test al, al
        jz .drive
        out 0xE9, al
        mov ah, 0x1F
        stosw
        jmp .out
.drive:                         ; " DL=xx" with the drive the loader passed
        mov si, dl_text
.dl:
        lodsb
        test al, al
        jz .hex
        out 0xE9, al
        jmp .dl
.hex:
        mov al, [boot_drive]
        shr al, 4
        call hex_digit
        mov al, [boot_drive]
        and al, 0x0F
        call hex_digit
        mov al, 10
        out 0xE9, al
.halt:
        cli
        hlt
        jmp .halt

hex_digit:
        add al, '0'
        cmp al, '9'
        jbe .put
        add al, 'A' - '9' - 1
.put:
        out 0xE9, al
        ret

boot_drive db 0
expected db "SECOND-CLUSTER"
expected_end:
marker db "VORNAK-TEST-IO-SYS-RUNNING", 0
broken db "VORNAK-TEST-IO-SYS-BROKEN", 0
dl_text db " DL=", 0

        times 5000 - ($ - $$) db 0
