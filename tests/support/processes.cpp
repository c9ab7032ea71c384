#include "support/processes.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "support/eventually.h"

namespace {

char process_state(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  const std::size_t name_end = line.rfind(')');
  return name_end != std::string::npos && name_end + 2 < line.size() ? line[name_end + 2] : 0;
}

std::size_t size_of(const std::string &path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? static_cast<std::size_t>(status.st_size) : 0;
}

}  // namespace

std::vector<pid_t> child_processes(pid_t parent) {
  std::vector<pid_t> children;
  std::error_code error;
  const std::string tasks = "/proc/" + std::to_string(parent) + "/task";
  for (const auto &task : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream list(task.path() / "children");
    for (pid_t child; list >> child;) {
      if (process_running(child)) children.push_back(child);
    }
  }
  return children;
}

bool process_running(pid_t pid) {
  const char state = process_state(pid);
  return state != 0 && state != 'Z' && state != 'X';
}

std::vector<pid_t> pids_in(const std::string &path) {
  std::vector<pid_t> pids;
  std::ifstream file(path);
  for (pid_t pid; file >> pid;) pids.push_back(pid);
  return pids;
}

bool wait_for_size(const std::string &path, std::size_t bytes, std::chrono::milliseconds timeout) {
  return eventually([&] { return size_of(path) >= bytes; }, timeout);
}

std::size_t wait_until_quiet(const std::string &path, std::chrono::milliseconds quiet) {
  std::size_t size = size_of(path);
  auto since = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - since < quiet) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (const std::size_t now = size_of(path); now != size) {
      size = now;
      since = std::chrono::steady_clock::now();
    }
  }
  return size;
}

void open_to_started_programs(const std::string &folder) { chmod(folder.c_str(), 0777); }

std::string status_of(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string privileges_held(const std::string &status) {
  std::string held;
  std::istringstream lines(status);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string key, value;
    fields >> key;
    if (key == "Uid:" || key == "Gid:" || key == "Groups:") {
      while (fields >> value) {
        if (value == "0") held += key.substr(0, key.size() - 1) + " 0\n";
      }
    } else if (key == "CapInh:" || key == "CapPrm:" || key == "CapEff:" || key == "CapAmb:") {
      fields >> value;
      if (value.find_first_not_of('0') != std::string::npos) held += line + "\n";
    } else if (key == "NoNewPrivs:") {
      fields >> value;
      if (value != "1") held += "no_new_privs off\n";
    }
  }
  return held;
}

int descriptors_of(pid_t pid) {
  int count = 0;
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
}

bool has_sanitizer_report(const std::string &errors) {
  return errors.find("Sanitizer") != std::string::npos ||
         errors.find("runtime error") != std::string::npos;
}
