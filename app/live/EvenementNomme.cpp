#include "EvenementNomme.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

struct TEvenementNomme::Shared {
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  bool signalled = false;
  uint64_t generation = 0;
};

namespace {

// The registry of open events by name. Entries are weak so that an event
// goes when its last handle does; an expired entry is replaced on the next
// open of that name.
std::mutex &RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

template <class T>
std::map<std::string, std::weak_ptr<T>> &Registry() {
  static std::map<std::string, std::weak_ptr<T>> registry;
  return registry;
}

}  // namespace

TEvenementNomme::TEvenementNomme(const std::string &name) : m_name(name) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto &registry = Registry<Shared>();
  auto &entry = registry[name];
  m_shared = entry.lock();
  if (!m_shared) {
    m_shared = std::make_shared<Shared>();
    entry = m_shared;
  }
}

TEvenementNomme::~TEvenementNomme() {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto &registry = Registry<Shared>();
  const auto it = registry.find(m_name);
  m_shared.reset();
  if (it != registry.end() && it->second.expired()) registry.erase(it);
}

void TEvenementNomme::Set() {
  {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->signalled = true;
    ++m_shared->generation;
  }
  m_shared->changed.notify_all();
}

void TEvenementNomme::Reset() {
  std::lock_guard<std::mutex> lock(m_shared->mutex);
  m_shared->signalled = false;
}

bool TEvenementNomme::IsSet() const {
  std::lock_guard<std::mutex> lock(m_shared->mutex);
  return m_shared->signalled;
}

uint64_t TEvenementNomme::Generation() const {
  std::lock_guard<std::mutex> lock(m_shared->mutex);
  return m_shared->generation;
}

void TEvenementNomme::Wait() const {
  std::unique_lock<std::mutex> lock(m_shared->mutex);
  m_shared->changed.wait(lock, [this] { return m_shared->signalled; });
}

void TEvenementNomme::WaitSignalAfter(uint64_t generation) const {
  std::unique_lock<std::mutex> lock(m_shared->mutex);
  m_shared->changed.wait(lock, [&] { return m_shared->generation > generation; });
}

bool TEvenementNomme::WaitSignalAfterFor(uint64_t generation, int milliseconds) const {
  std::unique_lock<std::mutex> lock(m_shared->mutex);
  return m_shared->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                    [&] { return m_shared->generation > generation; });
}

int TEvenementNomme::OpenEventCount() {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  int count = 0;
  for (const auto &entry : Registry<Shared>())
    if (!entry.second.expired()) ++count;
  return count;
}
