// How the HD44780 display hangs on the parallel port, named once.
//
// The display logic thinks in register selects, transfer directions and the
// level of E; control_value() is the one place that turns those into the
// byte for the port's control register.
//
// Pin map (control register = base + 2; data register = base: D0-D7):
//   bit 0  nStrobe   (pin 1)  -> R/W   inverted by the port: bit set drives the pin low (write)
//   bit 1  nAutoFeed (pin 14) -> not connected, always clear
//   bit 2  nInit     (pin 16) -> E     not inverted: bit set drives E high
//   bit 3  nSelectIn (pin 17) -> RS    inverted by the port: bit set drives the pin low
//                                      (instruction register)
//   bit 4  interrupt enable, always clear
//   bit 5  data direction, always clear: the port drives D0-D7 itself
//   bits 6, 7 always set
#pragma once

namespace lcd_wiring {

inline constexpr unsigned int data_register_offset = 0;
inline constexpr unsigned int control_register_offset = 2;

inline constexpr unsigned char control_fixed_bits = 0xC0;
inline constexpr unsigned char read_write_bit = 0x01;       // nStrobe, inverted line
inline constexpr unsigned char enable_bit = 0x04;           // nInit
inline constexpr unsigned char register_select_bit = 0x08;  // nSelectIn, inverted line

enum class register_select { instruction, data };
enum class transfer_direction { write, read };
enum class enable_level { low, high };

constexpr unsigned char control_value(register_select target, transfer_direction transfer,
                                      enable_level enable) {
  unsigned char value = control_fixed_bits;
  // R/W low means write, and the port inverts the line: set the bit to write.
  if (transfer == transfer_direction::write) value |= read_write_bit;
  if (enable == enable_level::high) value |= enable_bit;
  // RS low selects the instruction register, and the port inverts the line.
  if (target == register_select::instruction) value |= register_select_bit;
  return value;
}

}  // namespace lcd_wiring
