// The probe's scenarios: each request goes through the seam exactly as the
// player makes it (drive_open is blocking, options are passed by value), so
// that the transcript shows what the player meets, not what a tool could.
#include "probe.h"

#include <linux/cdrom.h>
#include <string.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace drive_probe {
namespace {

std::string error_name(int error) {
  const char *name = strerrorname_np(error);
  return name ? name : std::to_string(error);
}

std::string msf_text(int minute, int second, int frame) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", minute, second, frame);
  return text;
}

std::string msf_text(const cdrom_msf0 &msf) { return msf_text(msf.minute, msf.second, msf.frame); }

std::string address_text(const cdrom_addr &address, int format) {
  return format == CDROM_LBA ? "lba " + std::to_string(address.lba) : msf_text(address.msf);
}

std::string hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

class drive_probe {
 public:
  explicit drive_probe(std::FILE *out) : out_(out) {}

  // One line: NAME, what was asked, how it ended, and on success the fields.
  // Plays say "ok" outright, as in the drive log; other requests only say
  // when they failed or answered a value.
  void print(std::string_view name, const std::string &asked, int result, int error,
             const std::string &fields = "", bool say_ok = false) {
    std::string line(name);
    if (!asked.empty()) line += " " + asked;
    if (result == -1) {
      line += " " + error_name(error);
    } else {
      if (result != 0) line += " = " + std::to_string(result);
      if (result == 0 && say_ok) line += " ok";
      if (!fields.empty()) line += " [" + fields + "]";
    }
    std::fprintf(out_, "%s\n", line.c_str());
  }

  bool open() {
    fd_ = platform::drive_open();
    print("OPEN", "", fd_ == -1 ? -1 : 0, errno);
    return fd_ != -1;
  }

  void close() {
    const int result = platform::drive_close(fd_);
    print("CLOSE", "", result, errno);
    fd_ = -1;
  }

  int request(unsigned long request, void *argument) {
    errno = 0;
    return platform::drive_request(fd_, request, argument);
  }

  void plain(std::string_view name, unsigned long code) {
    const int result = request(code, nullptr);
    print(name, "", result, errno);
  }

  void by_value(std::string_view name, unsigned long code, unsigned long value) {
    const int result = request(code, reinterpret_cast<void *>(value));
    print(name, code == CDROM_LOCKDOOR ? std::to_string(value) : hex(value), result, errno);
  }

  void toc_header() {
    cdrom_tochdr header{};
    const int result = request(CDROMREADTOCHDR, &header);
    const std::string range =
        std::to_string(header.cdth_trk0) + "-" + std::to_string(header.cdth_trk1);
    print("TOCHDR", result == 0 ? range : "", result, errno);
  }

  void toc_entry(int track, int format) {
    cdrom_tocentry entry{};
    entry.cdte_track = static_cast<unsigned char>(track);
    entry.cdte_format = static_cast<unsigned char>(format);
    const int result = request(CDROMREADTOCENTRY, &entry);
    std::string asked = track == CDROM_LEADOUT ? "leadout" : std::to_string(track);
    if (result == 0) asked += " " + address_text(entry.cdte_addr, format);
    print("TOCENTRY", asked, result, errno,
          "adr " + std::to_string(entry.cdte_adr) + " ctrl " + hex(entry.cdte_ctrl) + " mode " +
              std::to_string(entry.cdte_datamode));
  }

  void subchannel() {
    cdrom_subchnl channel{};
    channel.cdsc_format = CDROM_MSF;
    const int result = request(CDROMSUBCHNL, &channel);
    print("SUBCHNL", result == 0 ? "status " + hex(channel.cdsc_audiostatus) : "", result, errno,
          "adr " + std::to_string(channel.cdsc_adr) + " ctrl " + hex(channel.cdsc_ctrl) +
              " track " + std::to_string(channel.cdsc_trk) + " index " +
              std::to_string(channel.cdsc_ind) + " abs " + msf_text(channel.cdsc_absaddr.msf) +
              " rel " + msf_text(channel.cdsc_reladdr.msf));
  }

  // Two seconds from the start of track 1, well inside the shortest data
  // track either drive holds.
  void play() {
    cdrom_msf msf{};
    msf.cdmsf_min0 = 0;
    msf.cdmsf_sec0 = 2;
    msf.cdmsf_min1 = 0;
    msf.cdmsf_sec1 = 4;
    const int result = request(CDROMPLAYMSF, &msf);
    print("PLAYMSF", msf_text(0, 2, 0) + "-" + msf_text(0, 4, 0), result, errno, "", true);
  }

 private:
  std::FILE *out_;
  int fd_ = -1;
};

void disc_scenario(drive_probe &probe) {
  if (!probe.open()) return;
  probe.toc_header();
  probe.toc_entry(1, CDROM_MSF);
  probe.toc_entry(1, CDROM_LBA);
  probe.toc_entry(2, CDROM_MSF);
  probe.toc_entry(CDROM_LEADOUT, CDROM_MSF);
  probe.subchannel();
  probe.plain("START", CDROMSTART);
  probe.play();
  probe.subchannel();
  probe.plain("PAUSE", CDROMPAUSE);
  probe.plain("RESUME", CDROMRESUME);
  probe.plain("STOP", CDROMSTOP);
  // The open locked the door; the player unlocks it before it ejects.
  probe.plain("EJECT", CDROMEJECT);
  probe.by_value("LOCKDOOR", CDROM_LOCKDOOR, 1);
  probe.plain("EJECT", CDROMEJECT);
  probe.by_value("LOCKDOOR", CDROM_LOCKDOOR, 0);
  probe.plain("EJECT", CDROMEJECT);
  probe.toc_header();
  probe.subchannel();
  probe.close();
  // With auto-close on, as the drive starts, a blocking open pulls the tray
  // back in; the player turns it off, and then an open tray is no disc.
  if (!probe.open()) return;
  probe.toc_header();
  probe.by_value("CLEAR_OPTIONS", CDROM_CLEAR_OPTIONS, CDO_AUTO_CLOSE);
  probe.by_value("LOCKDOOR", CDROM_LOCKDOOR, 0);
  probe.plain("EJECT", CDROMEJECT);
  probe.close();
  if (probe.open()) probe.close();
}

}  // namespace

int run(const char *scenario, std::FILE *out) {
  drive_probe probe(out);
  if (std::strcmp(scenario, "empty") == 0) {
    if (probe.open()) probe.close();
  } else if (std::strcmp(scenario, "disc") == 0) {
    disc_scenario(probe);
  } else {
    std::fprintf(stderr, "drive-probe: unknown scenario %s\n", scenario);
    return 2;
  }
  return 0;
}

}  // namespace drive_probe
