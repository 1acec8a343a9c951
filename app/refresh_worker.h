#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

#include "base/local_clock.h"
#include "net/rates_client.h"
#include "rates/shared_rates.h"
#include "refresh/refresh_cycle.h"
#include "store/settings_store.h"
#include "worker_threads.h"

// What a refresh worker tells the window, always by a message to the window's thread.
// A new library waits beside the running one (posted).
inline constexpr UINT WM_UPDATE_READY = 0x8001;  // WM_APP + 1
// The stamp of the stored snapshot (sent; lParam: a const SystemTime*).
inline constexpr UINT WM_LAST_UPDATED = WM_APP + 2;
// The rates just fetched (sent; lParam: a const RateTable*).
inline constexpr UINT WM_SHOW_RATES = WM_APP + 3;

// The date and source of the signed rates just taken (sent; lParam: a const RatesInfo*).
inline constexpr UINT WM_RATES_INFO = WM_APP + 20;

// The payloads of those messages, valid while the message is handled.
inline const SystemTime& LastUpdatedOf(LPARAM lParam) { return *reinterpret_cast<const SystemTime*>(lParam); }
inline const RateTable& RatesOf(LPARAM lParam) { return *reinterpret_cast<const RateTable*>(lParam); }
inline const RatesInfo& RatesInfoOf(LPARAM lParam) { return *reinterpret_cast<const RatesInfo*>(lParam); }

// The window's refresh machinery: the worker threads, the one client they share with its sockets
// and the clock, and the rule that one refresh runs at a time. Threads are never killed: Stop
// aborts the network and joins them while dispatching what they send to the window.
class RefreshWorker {
 public:
  RefreshWorker(SettingsStore& settings, SharedRates& rates, ClientConfig client);
  RefreshWorker(const RefreshWorker&) = delete;
  RefreshWorker& operator=(const RefreshWorker&) = delete;

  // The window that refreshes report to; set before the first Start.
  void ReportTo(HWND window) { m_view.m_window = window; }

  // Whether this build takes only signed rates (it has a rates key).
  bool TakesSignedRates() const { return m_signedRates.key.has_value(); }
  // The date and source of the rates the window starts with; set before the first Start.
  void HoldRatesInfo(const std::optional<RatesInfo>& info) { m_signedRates.held = info; }

  // Starts one refresh; a start while one runs is dropped by the worker, and none starts once
  // Stop has begun.
  void Start();
  // Runs a short job of the window on a worker thread that Stop joins as well.
  void StartJob(std::function<void()> job);

  // Aborts any connect or receive at once and waits for every worker to end. Call it on the
  // window's thread.
  void Stop();

  // The version of the verified update that one of these refreshes put in place and announced;
  // nothing when none did, whatever messages the window has received.
  std::optional<float> WaitingUpdate() const { return m_gate.WaitingUpdate(); }

 private:
  class WindowView final : public RefreshView {
   public:
    void ShowRates(const RateTable& rates) override;
    void ShowLastUpdated(const SystemTime& time) override;
    void UpdateReady() override;
    void ShowRatesInfo(const RatesInfo& info) override;

    HWND m_window = nullptr;
  };

  SettingsStore& m_settings;
  SharedRates& m_rates;
  RefreshGate m_gate;  // the refresh busy flag, and the update once one waits
  std::unique_ptr<SocketApi> m_sockets = MakePlatformSockets();
  SignedRatesState m_signedRates;  // before the client, whose configuration names the key
  RatesClient m_client;
  SystemLocalClock m_clock;
  WindowView m_view;
  bool m_stopping = false;  // no worker starts once the window has begun to end
  WorkerThreads m_workers;  // last: its destruction joins whatever still runs
};
