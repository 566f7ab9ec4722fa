// Where this build tree's loopback test servers listen, as CTest hands it to the test programs.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace brimo::test {

// The variable's value; a test failure (not a crash) when the program was started without CTest.
inline std::string ServerEnv(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) {
    ADD_FAILURE() << name << " is not set: run these tests through ctest, which starts the servers";
    return std::string();
  }
  return value;
}

// "127.0.0.1:<port>" of the scriptable HTTP server, without scheme, as the program builds its URLs.
inline std::string FaultHost() { return "127.0.0.1:" + ServerEnv("BRIMO_FAULT_PORT"); }
inline std::string TlsPort() { return ServerEnv("BRIMO_TLS_PORT"); }
// A loopback port on which nothing listens.
inline std::string ClosedHost() { return "127.0.0.1:" + ServerEnv("BRIMO_CLOSED_PORT"); }
// PEM file of the CA that signed the HTTPS server's certificate.
inline std::string TestCaFile() { return ServerEnv("BRIMO_TEST_CA"); }

// The directory the HTTP server serves unmatched paths from, reachable from this program.
inline std::string ServerRoot() {
  std::string root = ServerEnv("BRIMO_SERVER_ROOT");
#ifdef _WIN32
  // Wine maps the Unix file system to drive Z:.
  if (!root.empty() && root.front() == '/') root = "Z:" + root;
#endif
  return root;
}

// The bytes that the server's bytes, nolength, chunked, cut, slow and stall behaviours send.
inline std::string PatternBytes(std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return bytes;
}

}  // namespace brimo::test
