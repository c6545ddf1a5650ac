// A network of the test's own: the printer's fixed port and the DNS-SD traffic stay out of the
// machine's network, where other copies of the program may run.
#pragma once

#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

// True when this process made its own network namespace, or is in one other than process 1's.
bool in_private_network();

// Moves this process (and every process it starts later) into a new network namespace with its
// loopback interface up, unless it is already in a private one. False when that is not allowed
// (not root); the test then shares the machine's network.
bool enter_private_network();

// Turns multicast on for the loopback interface (DNS-SD on loopback needs it). Only for a
// private network.
bool enable_loopback_multicast();

// Another host on this network's link: network and host-name namespaces of their own ("otherhost"),
// joined to this network by a veth pair (10.77.0.1 here, 10.77.0.2 there). Processes started
// while a Visit of it is alive run on that host.
class OtherHost {
 public:
  OtherHost();
  ~OtherHost();
  OtherHost(const OtherHost&) = delete;
  OtherHost& operator=(const OtherHost&) = delete;

  bool started() const { return started_; }
  // What setting up the link printed.
  const std::string& output() const { return output_; }

  // Moves the calling thread onto the other host until it is destroyed.
  class Visit {
   public:
    explicit Visit(const OtherHost& host);
    ~Visit();
    Visit(const Visit&) = delete;
    Visit& operator=(const Visit&) = delete;
    bool entered() const { return entered_; }

   private:
    int home_net_ = -1, home_uts_ = -1;
    bool entered_ = false;
  };

 private:
  ChildProcess holder_;  // keeps the namespaces alive
  TempDir dir_;
  std::string output_;
  bool started_ = false;
};
