// The simulation's scratch folder: made under TMPDIR, emptied and removed
// at the end.
#include "program/scratch_folder.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "util/unique_handle.h"

namespace sim {

scratch_folder::scratch_folder() {
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
scratch_folder::~scratch_folder() {
  if (path_.empty()) return;
  if (const util::unique_dir folder{opendir(path_.c_str())}) {
    while (dirent *entry = readdir(folder.get())) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") unlink((path_ + "/" + name).c_str());
    }
  }
  rmdir(path_.c_str());
}

}  // namespace sim
