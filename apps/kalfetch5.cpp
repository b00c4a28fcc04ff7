// KALFETCH5: uploads the Kalvor sensor's memory and transcribes it.
#include <string>
#include <vector>

#include "session/session.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return kal::KALFETCH5(args);
}
