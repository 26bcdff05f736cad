# Writes an Intel HEX image for the simulated device (application 0x1000-0x1FFF):
# a little code at its start and the info block in its top twelve bytes.
hex_record() { # address bytes...
  local address=$1 sum count=$(( $# - 1 )) line
  shift
  sum=$(( count + (address >> 8) + (address & 0xFF) ))
  line=$(printf ':%02X%04X00' "$count" "$address")
  for byte in "$@"; do
    line+=$(printf '%02X' "$byte")
    sum=$(( sum + byte ))
  done
  printf '%s%02X\n' "$line" $(( (256 - (sum & 0xFF)) & 0xFF ))
}
write_image() { # path
  {
    local address
    for address in $(seq $((0x1000)) 16 $((0x1000 + 96))); do
      local bytes=() i
      for i in $(seq 0 15); do bytes+=($(( (address + i) & 0xFF ))); done
      hex_record "$address" "${bytes[@]}"
    done
    # serial 0x1234, version 3.4.0.7, CRC-16, packet and buffer 64, page 512, type, product 0x42
    hex_record $((0x1FF4)) 0x12 0x34 0x30 0x04 0x00 0x07 0x40 0x66 0x09 0x80 0x42 0x0C
    echo ':00000001FF'
  } >"$1"
}
