// The display's way to the port: through /dev/parport0 when the player can
// claim it, else raw port I/O, else nothing; the one console line that says
// which; and the same screens whichever way the registers are reached.
#include "lcd/port_access.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emu/display.h"
#include "emu/machine.h"
#include "lcd/lcd.h"
#include "support/machine_fixture.h"

namespace {

using parport_state = sim::machine_configuration::parport_state;
using port_access::access_way;

constexpr unsigned int base = 888;
constexpr unsigned short data_port = 888, control_port = 890;
const std::string forty = "scan CD content... (may takes some time)";

class PortAccessTest : public machine_fixture {
 protected:
  void TearDown() override {
    port_access::release();
    machine_fixture::TearDown();
  }

  // What choose() printed, and the way it took.
  std::string choose(parport_state parport, bool raw_access_granted, access_way &way) {
    sim::machine_config().parport = parport;
    testing::internal::CaptureStdout();
    way = port_access::choose(raw_access_granted);
    return testing::internal::GetCapturedStdout();
  }

  // A display's life in short: initialised, the prompt, a full line 2.
  // Returns every screen it showed, in order.
  std::vector<std::string> draw() {
    std::vector<std::string> screens;
    auto look = [&] {
      const sim::display_snapshot view = sim::display_view();
      screens.push_back(view.line1 + "|" + view.line2);
    };
    testing::internal::CaptureStdout();
    lcd_init(base);
    testing::internal::GetCapturedStdout();
    look();
    lcd_set_string(base, "Bitte CD einlegen...", 1);
    look();
    lcd_set_string(base, forty.c_str(), 2);
    look();
    return screens;
  }
};

TEST_F(PortAccessTest, ClaimedDriverDrawsWhatRawPortIODrawsWithTheSameLineBits) {
  const std::vector<std::string> raw_screens = draw();
  const int raw_busy = lcd_busy(base);
  const std::vector<sim::logged_write> raw_writes = sim::port_writes();

  sim::reset_display_emulator();
  access_way way;
  EXPECT_EQ(choose(parport_state::claimable, true, way), "display: /dev/parport0\n");
  EXPECT_EQ(way, access_way::kernel_driver);
  // The claim loads the port's state (E high) and enables its interrupt;
  // the data direction goes forward, and E low before the display's first
  // write, which is then no falling edge.
  std::vector<unsigned char> claim_values;
  for (const sim::logged_write &write : sim::port_writes()) {
    EXPECT_EQ(write.port, control_port);
    claim_values.push_back(write.value);
  }
  EXPECT_EQ(claim_values, (std::vector<unsigned char>{0x1C, 0x1C, 0x1C, 0x10}));
  sim::clear_port_writes();

  EXPECT_EQ(draw(), raw_screens);
  EXPECT_EQ(sim::display_view().line2, forty);
  EXPECT_EQ(sim::display_busy_violations(), 0u);
  EXPECT_EQ(lcd_busy(base), raw_busy);

  // Write for write the same registers; the driver passes on the control
  // register's line bits and keeps its interrupt enable.
  const std::vector<sim::logged_write> driver_writes = sim::port_writes();
  ASSERT_EQ(driver_writes.size(), raw_writes.size());
  for (std::size_t i = 0; i < driver_writes.size(); ++i) {
    ASSERT_EQ(driver_writes[i].port, raw_writes[i].port) << "write " << i;
    if (raw_writes[i].port == data_port) {
      EXPECT_EQ(driver_writes[i].value, raw_writes[i].value) << "write " << i;
    } else {
      EXPECT_EQ(driver_writes[i].value, 0x10 | (raw_writes[i].value & 0x0F)) << "write " << i;
    }
  }
}

TEST_F(PortAccessTest, PortHeldByAnotherDriverIsLeftToItAndRawPortIODraws) {
  const int descriptors = open_descriptors();
  access_way way;
  EXPECT_EQ(choose(parport_state::held, true, way),
            "display: raw port I/O (/dev/parport0 held by another driver)\n");
  EXPECT_EQ(way, access_way::raw);
  EXPECT_EQ(open_descriptors(), descriptors) << "the refused device must be closed";

  testing::internal::CaptureStdout();
  lcd_init(base);
  testing::internal::GetCapturedStdout();
  lcd_set_string(base, "Bitte CD einlegen...", 1);
  EXPECT_EQ(sim::display_view().line1.substr(0, 20), "Bitte CD einlegen...");
  EXPECT_EQ(sim::port_writes().back().value, 0xC0) << "raw port I/O writes the whole value";
}

TEST_F(PortAccessTest, WithoutTheDeviceTheLineSaysWhy) {
  access_way way;
  EXPECT_EQ(choose(parport_state::absent, true, way), "display: raw port I/O (no /dev/parport0)\n");
  EXPECT_EQ(way, access_way::raw);
  EXPECT_EQ(choose(parport_state::forbidden, true, way),
            "display: raw port I/O (/dev/parport0: Permission denied)\n");
  EXPECT_EQ(way, access_way::raw);
}

// Raw port I/O without the I/O privilege would kill the player at its first
// display write; without either way the player goes on with a dark display.
TEST_F(PortAccessTest, WithNeitherWayNoPortIsTouched) {
  access_way way;
  EXPECT_EQ(choose(parport_state::held, false, way),
            "display: off, no port access (/dev/parport0 held by another driver)\n");
  EXPECT_EQ(way, access_way::none);
  sim::refuse_port_access(true);
  draw();
  EXPECT_EQ(lcd_busy(base), 0x80) << "nothing drives the lines: they read high";
  EXPECT_TRUE(sim::port_writes().empty());
}

}  // namespace
