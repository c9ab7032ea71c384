// discbox-sim: the player on an emulated machine, for trying it on any PC
// and for driving it from tests.
#include "program/options.h"
#include "program/supervisor.h"

int main(int argc, char **argv) {
  sim::sim_options options;
  int status = sim::parse_options(argc, argv, options);
  if (status >= 0) return status;
  return sim::run_simulation(options);
}
