// EvenementNomme: process-wide named manual-reset events.
//
// Every object that opens the same name shares one event, as the panels and
// the workers that remove them share "EvenementFermer". An event is created
// not signalled; opening a name that already exists gives the existing event
// and leaves its state alone. The event lives while a handle on it lives.
//
// Besides its signalled state, an event counts its signals (Generation). A
// waiter that remembers the count when it is created can wait for a signal
// given after that moment (WaitSignalAfter) and never miss it, even when
// another waiter has reset the event before this one began to wait. Plain
// Wait, on the state alone, would wait for ever in that case.
#ifndef NIVELIX_EVENEMENTNOMME_H
#define NIVELIX_EVENEMENTNOMME_H

#include <cstdint>
#include <memory>
#include <string>

class TEvenementNomme {
 public:
  // Opens the event named name, creating it (not signalled) when no handle
  // on it is open in the process.
  explicit TEvenementNomme(const std::string &name);
  ~TEvenementNomme();
  TEvenementNomme(const TEvenementNomme &) = delete;
  TEvenementNomme &operator=(const TEvenementNomme &) = delete;

  const std::string &Name() const { return m_name; }

  // Signals the event: it stays signalled until Reset, and every waiter
  // wakes.
  void Set();
  void Reset();
  bool IsSet() const;

  // The number of Set calls so far on this event.
  uint64_t Generation() const;

  // Waits until the event is signalled.
  void Wait() const;
  // Waits until a Set newer than generation has been given (at once when
  // one already has), whatever the state is now.
  void WaitSignalAfter(uint64_t generation) const;
  // The same with a time limit; false when it ran out first.
  bool WaitSignalAfterFor(uint64_t generation, int milliseconds) const;

  // How many distinct events are open in the process (for tests).
  static int OpenEventCount();

 private:
  struct Shared;
  std::string m_name;
  std::shared_ptr<Shared> m_shared;
};

#endif
