#include "driver/driver.h"

int main(int argc, char** argv) {
  return seedmatch::runCommand(argc, argv, seedmatch::Command::random);
}
