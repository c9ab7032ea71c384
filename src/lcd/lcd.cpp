// The display driver: each operation is a fixed sequence of data bytes,
// E pulses and busy-waits, in the order the controller needs them. The
// driver keeps no state of its own; everything lives in the controller and
// in the port's registers.
#include "lcd/lcd.h"

#include <cstdio>
#include <mutex>

#include "lcd/delay.h"
#include "lcd/lcd_timing.h"
#include "lcd/lcd_wiring.h"
#include "platform/platform.h"

namespace {

using lcd_wiring::Enable;
using lcd_wiring::Register;
using lcd_wiring::Transfer;
using namespace lcd_timing;

constexpr char text_init_banner[] = "WWWWWW\n";
constexpr char text_port_access_result[] = "iopl %i\n";

constexpr unsigned char function_set_8bit_2lines_5x8 = 0x38;
constexpr unsigned char display_on_no_cursor = 0x0C;
constexpr unsigned char clear_display = 0x01;
constexpr unsigned char entry_increment_no_shift = 0x06;
constexpr unsigned char return_home = 0x02;
constexpr unsigned char shift_display_left = 0x18;
constexpr unsigned char shift_display_right = 0x1C;
constexpr unsigned char set_display_address = 0x80;
constexpr unsigned char set_generator_address = 0x40;
constexpr unsigned char line2_address = 0x40;
constexpr int line_characters = 40;

// Serialises whole operations: in the MP3 mode two threads use the display.
std::mutex display_mutex;

void put_data(unsigned int addr, unsigned char byte) {
  platform::port_write(static_cast<unsigned short>(addr + lcd_wiring::data_register_offset), byte);
}

void put_control(unsigned int addr, Register target, Transfer transfer, Enable enable) {
  platform::port_write(static_cast<unsigned short>(addr + lcd_wiring::control_register_offset),
                       lcd_wiring::control_value(target, transfer, enable));
}

// E low, high, low again; the controller takes the byte on the falling edge.
void pulse(unsigned int addr, Register target, unsigned long wait) {
  put_control(addr, target, Transfer::write, Enable::low);
  udelay_sub(wait);
  put_control(addr, target, Transfer::write, Enable::high);
  udelay_sub(wait);
  put_control(addr, target, Transfer::write, Enable::low);
}

// The value the control register rests at after some operations: E low and
// R/W on read, so that nothing the lines do can reach the controller.
void rest(unsigned int addr, Register target) {
  put_control(addr, target, Transfer::read, Enable::low);
}

// An instruction whose first control write follows the data byte at once.
void instruction(unsigned int addr, unsigned char byte, unsigned long after) {
  put_data(addr, byte);
  pulse(addr, Register::instruction, step_wait);
  udelay_sub(after);
}

void clear_locked(unsigned int addr) {
  lcd_wait(addr);
  put_data(addr, clear_display);
  udelay_sub(character_wait);
  pulse(addr, Register::instruction, character_wait);
  udelay_sub(clear_home_wait);
  rest(addr, Register::instruction);
  udelay_sub(character_wait);
}

}  // namespace

void lcd_init(unsigned int addr) {
  std::lock_guard lock(display_mutex);
  std::fputs(text_init_banner, stdout);
  std::printf(text_port_access_result, platform::request_port_access());

  // Three function sets, as the controller's reset-by-instruction wants; the
  // data register keeps the byte for the second and third.
  put_data(addr, function_set_8bit_2lines_5x8);
  for (int i = 0; i < 3; ++i) {
    pulse(addr, Register::instruction, step_wait);
    udelay_sub(function_set_wait);
  }
  instruction(addr, display_on_no_cursor, step_wait);
  clear_locked(addr);
  instruction(addr, entry_increment_no_shift, step_wait);
}

void lcd_clear(unsigned int addr) {
  std::lock_guard lock(display_mutex);
  clear_locked(addr);
}

void lcd_set_string(unsigned int addr, const char *string, unsigned int line) {
  if (string == nullptr) return;
  std::lock_guard lock(display_mutex);
  lcd_wait(addr);
  put_data(addr, line == 1 ? set_display_address : set_display_address | line2_address);
  udelay_sub(address_wait);
  pulse(addr, Register::instruction, address_wait);
  udelay_sub(address_wait);

  for (int written = 0; string[written] != '\0' && written < line_characters; ++written) {
    put_data(addr, static_cast<unsigned char>(string[written]));
    udelay_sub(character_wait);
    pulse(addr, Register::data, character_wait);
  }
  udelay_sub(step_wait);
  rest(addr, Register::data);
  udelay_sub(step_wait);
}

void lcd_set_char(unsigned int addr, unsigned char charakter, unsigned int position) {
  std::lock_guard lock(display_mutex);
  lcd_wait(addr);
  put_data(addr, static_cast<unsigned char>(position | set_display_address));
  udelay_sub(address_wait);
  pulse(addr, Register::instruction, address_wait);
  udelay_sub(address_wait);
  rest(addr, Register::data);
  udelay_sub(address_wait);

  lcd_wait(addr);
  put_data(addr, charakter);
  udelay_sub(address_wait);
  pulse(addr, Register::data, address_wait);
  udelay_sub(address_wait);
  rest(addr, Register::data);
  udelay_sub(address_wait);
}

void lcd_cg(unsigned int addr, unsigned int position) {
  std::lock_guard lock(display_mutex);
  put_data(addr, static_cast<unsigned char>(position | set_generator_address));
  udelay_sub(step_wait);
  pulse(addr, Register::instruction, step_wait);
  udelay_sub(step_wait);
  rest(addr, Register::data);
  udelay_sub(step_wait);
}

void lcd_shift_left(unsigned int addr) {
  std::lock_guard lock(display_mutex);
  instruction(addr, shift_display_left, step_wait);
}

void lcd_shift_right(unsigned int addr) {
  std::lock_guard lock(display_mutex);
  instruction(addr, shift_display_right, step_wait);
}

void lcd_return(unsigned long addr) {
  std::lock_guard lock(display_mutex);
  const auto base = static_cast<unsigned int>(addr);
  lcd_wait(base);
  instruction(base, return_home, clear_home_wait);
}

int lcd_busy(unsigned int addr) {
  std::lock_guard lock(display_mutex);
  put_control(addr, Register::data, Transfer::read, Enable::high);
  udelay_sub(step_wait);
  put_control(addr, Register::data, Transfer::read, Enable::low);
  udelay_sub(step_wait);
  put_control(addr, Register::data, Transfer::read, Enable::high);
  udelay_sub(step_wait);
  const unsigned char lines =
      platform::port_read(static_cast<unsigned short>(addr + lcd_wiring::data_register_offset));
  return lines & 0x80;
}

int lcd_wait(unsigned int) { return 0; }
