// brimo-publish: puts an installer and the release document naming it into a release folder.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "publish/Publish.h"

int main(int argc, char** argv) {
  constexpr int kFailed = 1;
  constexpr int kUsage = 2;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << brimo::UsageText() << "\n";
    return 0;
  }
  try {
    const brimo::Published published = brimo::Publish(brimo::ParseCommandLine(args));
    for (const auto& note : published.notes) std::cerr << brimo::kCommandName << ": note: " << note << "\n";
    for (const auto& file : published.written) std::cout << "wrote " << file.string() << "\n";
    std::cout << "path: " << published.path << "\nsha512: " << published.sha512 << "\n";
    if (published.expires) std::cout << "expires: " << *published.expires << "\n";
    return 0;
  } catch (const brimo::UsageError& e) {
    std::cerr << brimo::kCommandName << ": " << e.what() << "\n" << brimo::UsageText() << "\n";
    return kUsage;
  } catch (const std::exception& e) {
    std::cerr << brimo::kCommandName << ": " << e.what() << "\n";
    return kFailed;
  }
}
