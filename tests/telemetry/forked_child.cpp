#include "tests/telemetry/forked_child.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace ventaro::telemetry::testing {
namespace {

void writeAll(int fd, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return;
    }
    written += static_cast<std::size_t>(count);
  }
}

[[noreturn]] void runChild(const std::function<std::string()>& body, int fd) {
  std::string output;
  try {
    output = body();
  } catch (const std::exception& error) {
    output = std::string("error: ") + error.what();
  }
  writeAll(fd, output);
  ::_exit(0);
}

} // namespace

ChildOutcome runInChild(const std::function<std::string()>& body, std::chrono::milliseconds limit) {
  std::array<int, 2> ends{};
  if (::pipe(ends.data()) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t child = ::fork();
  if (child < 0) {
    throw std::runtime_error("fork failed");
  }
  if (child == 0) {
    ::close(ends[0]);
    runChild(body, ends[1]);
  }
  ::close(ends[1]);
  ChildOutcome outcome;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{ends[0], POLLIN, 0};
    const int polled = left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(left.count())) : 0;
    if (polled < 0 && errno == EINTR) {
      continue;
    }
    if (polled <= 0) {
      ::kill(child, SIGKILL);
      break;
    }
    std::array<char, 4096> buffer{};
    const ssize_t count = ::read(ends[0], buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      outcome.finished = true;
      break;
    }
    outcome.output.append(buffer.data(), static_cast<std::size_t>(count));
  }
  ::close(ends[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return outcome;
}

// One line a reading ("R", source, label, quantity, value), a reason ("T") or a name ("N"),
// fields separated by tabs.
std::string toText(const ChildReport& report) {
  std::ostringstream text;
  text.precision(17);
  for (const std::string& name : report.names) {
    text << "N\t" << name << '\n';
  }
  for (const Reading& reading : report.sample.readings) {
    text << "R\t" << reading.source << '\t' << reading.label << '\t'
         << static_cast<int>(reading.quantity) << '\t' << reading.value << '\n';
  }
  for (const std::string& reason : report.sample.throttleReasons) {
    text << "T\t" << reason << '\n';
  }
  return text.str();
}

ChildReport fromText(const std::string& text) {
  ChildReport report;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    std::string field;
    while (std::getline(parts, field, '\t')) {
      fields.push_back(field);
    }
    if (fields.size() == 2 && fields[0] == "N") {
      report.names.push_back(fields[1]);
    } else if (fields.size() == 2 && fields[0] == "T") {
      report.sample.throttleReasons.push_back(fields[1]);
    } else if (fields.size() == 5 && fields[0] == "R") {
      report.sample.readings.push_back({fields[1], fields[2],
                                        static_cast<Quantity>(std::stoi(fields[3])),
                                        std::stod(fields[4])});
    } else {
      throw std::runtime_error("the child wrote: " + text);
    }
  }
  return report;
}

} // namespace ventaro::telemetry::testing
