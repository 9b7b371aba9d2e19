// An X server of the process's own for tests and benchmarks: Xvfb on a free
// display number (it picks one and says which), with DISPLAY pointing at it,
// stopped with the object and, should the process crash, with the process.
#pragma once

#include <string>
#include <sys/types.h>

class Xvfb {
  public:
    Xvfb(); // throws std::runtime_error when Xvfb cannot start
    ~Xvfb();
    Xvfb(const Xvfb &)            = delete;
    Xvfb &operator=(const Xvfb &) = delete;
    const std::string &Name() const { return name_; }

  private:
    pid_t pid_ = -1;
    std::string name_;
};
