// The display driver: each operation is a list of steps (lcd_step.h), a
// byte, its register, the waits and the value the control register rests
// at, in the order the controller needs them. The driver keeps no state of
// its own; everything lives in the controller and in the port's registers.
#include "lcd/lcd.h"

#include <cstdio>
#include <mutex>

#include "lcd/delay.h"
#include "lcd/lcd_step.h"
#include "lcd/lcd_timing.h"
#include "lcd/lcd_wiring.h"
#include "lcd/port_access.h"
#include "platform/platform.h"

namespace {

using lcd_step::display_step;
using lcd_step::put_step;
using lcd_wiring::enable_level;
using lcd_wiring::register_select;
using lcd_wiring::transfer_direction;
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
constexpr int pattern_rows = 8;
constexpr unsigned int slot_mask = 0x07;
constexpr unsigned char row_dots = 0x1F;

// Serialises whole operations: in the MP3 mode two threads use the display.
std::mutex display_mutex;

// An instruction whose pulse follows its byte at once.
constexpr display_step instruction(unsigned char byte, unsigned long after) {
  return {.byte = byte,
          .pulse = register_select::instruction,
          .pulse_wait = step_wait,
          .after_pulse = after};
}

// A byte with the same wait after each of its steps, resting on the data
// register: the address and character writes and the generator address.
constexpr display_step evenly_waited(unsigned char byte, register_select pulse,
                                     unsigned long wait) {
  return {.byte = byte,
          .after_byte = wait,
          .pulse = pulse,
          .pulse_wait = wait,
          .after_pulse = wait,
          .rest = register_select::data,
          .after_rest = wait};
}

// The controller's reset by instruction wants the function set three times;
// the data register keeps the byte for the second and third.
constexpr display_step function_set = instruction(function_set_8bit_2lines_5x8, function_set_wait);
constexpr display_step function_set_again{.pulse = register_select::instruction,
                                          .pulse_wait = step_wait,
                                          .after_pulse = function_set_wait};

constexpr display_step clear_step{.byte = clear_display,
                                  .after_byte = character_wait,
                                  .pulse = register_select::instruction,
                                  .pulse_wait = character_wait,
                                  .after_pulse = clear_home_wait,
                                  .rest = register_select::instruction,
                                  .after_rest = character_wait};

void clear_locked(unsigned int addr) {
  lcd_wait(addr);
  put_step(addr, clear_step);
}

}  // namespace

void lcd_init(unsigned int addr) {
  std::lock_guard lock(display_mutex);
  std::fputs(text_init_banner, stdout);
  std::printf(text_port_access_result, platform::request_port_access());

  put_step(addr, function_set);
  put_step(addr, function_set_again);
  put_step(addr, function_set_again);
  put_step(addr, instruction(display_on_no_cursor, step_wait));
  clear_locked(addr);
  put_step(addr, instruction(entry_increment_no_shift, step_wait));
}

void lcd_clear(unsigned int addr) {
  std::lock_guard lock(display_mutex);
  clear_locked(addr);
}

void lcd_set_string(unsigned int addr, const char *string, unsigned int line) {
  if (string == nullptr) return;
  std::lock_guard lock(display_mutex);
  lcd_wait(addr);
  const unsigned char address =
      line == 1 ? set_display_address : set_display_address | line2_address;
  put_step(addr, {.byte = address,
                  .after_byte = address_wait,
                  .pulse = register_select::instruction,
                  .pulse_wait = address_wait,
                  .after_pulse = address_wait});
  for (int written = 0; string[written] != '\0' && written < line_characters; ++written) {
    put_step(addr, {.byte = static_cast<unsigned char>(string[written]),
                    .after_byte = character_wait,
                    .pulse = register_select::data,
                    .pulse_wait = character_wait});
  }
  // After the last character, or after the address when there is none.
  put_step(addr,
           {.after_pulse = step_wait, .rest = register_select::data, .after_rest = step_wait});
}

void lcd_set_char(unsigned int addr, unsigned char charakter, unsigned int position) {
  std::lock_guard lock(display_mutex);
  lcd_wait(addr);
  put_step(addr, evenly_waited(static_cast<unsigned char>(position | set_display_address),
                               register_select::instruction, address_wait));
  lcd_wait(addr);
  put_step(addr, evenly_waited(charakter, register_select::data, address_wait));
}

void lcd_cg(unsigned int addr, unsigned int position) {
  std::lock_guard lock(display_mutex);
  put_step(addr, evenly_waited(static_cast<unsigned char>(position | set_generator_address),
                               register_select::instruction, step_wait));
}

// The slot's first row address, then the rows, each as one character
// write: the controller takes a pattern row as it takes a character.
void lcd_load_pattern(unsigned int addr, unsigned int slot, const unsigned char *rows) {
  if (rows == nullptr) return;
  std::lock_guard lock(display_mutex);
  lcd_wait(addr);
  const auto first_row =
      static_cast<unsigned char>(set_generator_address | (slot & slot_mask) * pattern_rows);
  put_step(addr, evenly_waited(first_row, register_select::instruction, character_wait));
  for (int row = 0; row < pattern_rows; ++row) {
    const auto dots = static_cast<unsigned char>(rows[row] & row_dots);
    put_step(addr, evenly_waited(dots, register_select::data, character_wait));
  }
}

void lcd_shift_left(unsigned int addr) {
  std::lock_guard lock(display_mutex);
  put_step(addr, instruction(shift_display_left, step_wait));
}

void lcd_shift_right(unsigned int addr) {
  std::lock_guard lock(display_mutex);
  put_step(addr, instruction(shift_display_right, step_wait));
}

void lcd_return(unsigned long addr) {
  std::lock_guard lock(display_mutex);
  const auto base = static_cast<unsigned int>(addr);
  lcd_wait(base);
  put_step(base, instruction(return_home, clear_home_wait));
}

int lcd_busy(unsigned int addr) {
  std::lock_guard lock(display_mutex);
  lcd_step::put_control(addr, register_select::data, transfer_direction::read, enable_level::high);
  udelay_sub(step_wait);
  lcd_step::put_control(addr, register_select::data, transfer_direction::read, enable_level::low);
  udelay_sub(step_wait);
  lcd_step::put_control(addr, register_select::data, transfer_direction::read, enable_level::high);
  udelay_sub(step_wait);
  return port_access::read_data(addr) & 0x80;
}

int lcd_wait(unsigned int) { return 0; }
