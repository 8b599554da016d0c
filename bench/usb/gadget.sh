#!/usr/bin/env bash
# Another USB serial device for the cases, made by hand through configfs: a gadget with one
# ACM function and ids of its own.
# Usage: gadget.sh make NAME UDC VENDOR PRODUCT SERIAL | bind NAME UDC | unbind NAME |
#        terminal NAME | remove NAME
set -euo pipefail
configfs=/sys/kernel/config/usb_gadget
action=$1
name=$2
g=$configfs/$name
case "$action" in
  make)
    mkdir -p "$g/strings/0x409" "$g/configs/c.1/strings/0x409" "$g/functions/acm.$name"
    echo "$4" >"$g/idVendor"
    echo "$5" >"$g/idProduct"
    echo "$6" >"$g/strings/0x409/serialnumber"
    echo "Other maker" >"$g/strings/0x409/manufacturer"
    echo "USB serial adapter" >"$g/strings/0x409/product"
    echo "ACM" >"$g/configs/c.1/strings/0x409/configuration"
    ln -sf "$g/functions/acm.$name" "$g/configs/c.1/"
    ;;
  bind) echo "$3" >"$g/UDC" ;;
  unbind) echo "" >"$g/UDC" 2>/dev/null || true ;;
  terminal) echo "/dev/ttyGS$(cat "$g/functions/acm.$name/port_num")" ;;
  remove)
    [ -d "$g" ] || exit 0
    echo "" >"$g/UDC" 2>/dev/null || true
    rm -f "$g/configs/c.1/acm.$name"
    rmdir "$g/configs/c.1/strings/0x409" "$g/configs/c.1" "$g/functions/acm.$name" \
      "$g/strings/0x409" "$g" 2>/dev/null || true
    ;;
esac
