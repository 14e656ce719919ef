#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

namespace Sorvane::receiver {

// Turns what a browse and its resolvers report over time into one line per change of the
// _sorvane._tcp entries: "appeared" (with the TXT values), "changed" (new TXT values) and
// "disappeared". An entry seen on several interfaces or protocols is one entry, there while any of
// them has it.
class ServiceChanges {
 public:
  struct Counts {
    int appeared = 0;
    int disappeared = 0;
    int changed = 0;
  };

  // `where` tells one interface and protocol from another. Each returns the lines to print, each
  // starting with `timestamp`.
  std::vector<std::string> Found(const std::string& timestamp, const std::string& name,
                                 const std::string& where);
  std::vector<std::string> Resolved(const std::string& timestamp, const std::string& name,
                                    const std::map<std::string, std::string>& txt);
  std::vector<std::string> Removed(const std::string& timestamp, const std::string& name,
                                   const std::string& where);

  const Counts& counts() const { return counts_; }

 private:
  struct Entry {
    std::set<std::string> places;
    bool announced = false;
    std::map<std::string, std::string> txt;
  };

  std::map<std::string, Entry> entries_;
  Counts counts_;
};

// --list --watch S: browses _sorvane._tcp for S seconds and prints every change as it happens,
// then the counts. Exit code 0, or 1 when the daemon cannot be reached.
int WatchServices(double seconds);

}  // namespace Sorvane::receiver
