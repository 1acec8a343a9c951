#pragma once

#include <atomic>
#include <optional>

#include "base/local_clock.h"
#include "net/rates_client.h"
#include "rates/rates_info.h"
#include "rates/shared_rates.h"
#include "rates/snapshot.h"
#include "store/settings_store.h"

// What a refresh changes in the window. The window realises it with messages to its own
// thread, so the worker never touches a control or a member of the window directly.
class RefreshView {
 public:
  virtual ~RefreshView() = default;
  virtual void ShowRates(const RateTable& rates) = 0;        // the eighteen rate boxes
  virtual void ShowLastUpdated(const SystemTime& time) = 0;  // the window's time and its line
  virtual void UpdateReady() = 0;                            // a new library waits beside the old
  virtual void ShowRatesInfo(const RatesInfo&) {}            // the date and source of signed rates
};

// What signed rates need from one refresh to the next: the key they must be signed with, and the
// date and source of the rates held, so that an older record is never taken.
struct SignedRatesState {
  std::optional<UpdateKey> key;
  std::optional<RatesInfo> held;
};

// One refresh at a time, and none at all once a refresh has put a verified update in place: from
// then on the update file is the window's to hand to the launcher, and nothing touches it.
class RefreshGate {
 public:
  // Idle to busy; false while busy or once an update waits.
  bool TryBegin() {
    int idle = IDLE;
    return m_state.compare_exchange_strong(idle, BUSY);
  }
  // Busy to idle; an update that waits stays waiting.
  void End() {
    int busy = BUSY;
    m_state.compare_exchange_strong(busy, IDLE);
  }
  // Busy to update waiting, for good.
  void HoldUpdate(float version) {
    m_version = version;
    m_state.store(UPDATE_WAITING);  // after the version, which readers then see
  }
  // The version of the update that this window's own refresh put in place, if any.
  std::optional<float> WaitingUpdate() const {
    if (m_state.load() != UPDATE_WAITING) return std::nullopt;
    return m_version;
  }

 private:
  static constexpr int IDLE = 0;
  static constexpr int BUSY = 1;
  static constexpr int UPDATE_WAITING = 2;
  std::atomic<int> m_state{IDLE};
  float m_version = 0;
};

struct RefreshParts {
  RefreshGate& gate;  // a start while busy, or once an update waits, is dropped
  RatesClient& client;
  SharedRates& rates;  // the converter's table
  SettingsStore& store;
  LocalClock& clock;
  RefreshView& view;
  // With a key in it, the rates come only from signed records (never from the unsigned command,
  // which would let anyone strip the signature); without, from the unsigned command.
  SignedRatesState* signedRates = nullptr;
};

enum class RefreshOutcome { Dropped, UpdateTaken, FetchFailed, Refreshed, RecordRefused };

// One refresh: a new library first; otherwise the rates, shown, taken by the converter, stored
// with the current time and the time shown, in that order; then the date and source of signed
// rates, stored beside the snapshot and shown.
RefreshOutcome RunRefresh(const RefreshParts& parts);
