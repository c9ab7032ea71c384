#include "program/scratch_folder.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace sim {

ScratchFolder::ScratchFolder() {
  const char *temporary = std::getenv("TMPDIR");
  std::string pattern =
      std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") +
      "/discbox-sim.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) != nullptr) path_ = name.data();
}

// The folder holds only the mount links the emulator made: remove them
// without following them.
ScratchFolder::~ScratchFolder() {
  if (path_.empty()) return;
  if (DIR *folder = opendir(path_.c_str())) {
    while (dirent *entry = readdir(folder)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") unlink((path_ + "/" + name).c_str());
    }
    closedir(folder);
  }
  rmdir(path_.c_str());
}

}  // namespace sim
