#pragma once

#include <utility>

// Runs a clean-up when it goes out of scope, on every path out of the function.
template <typename CleanUp>
class ScopeExit {
 public:
  explicit ScopeExit(CleanUp cleanUp) : m_cleanUp(std::move(cleanUp)) {}
  ~ScopeExit() { m_cleanUp(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  CleanUp m_cleanUp;
};
