#include "refresh_worker.h"

#include <utility>

RefreshWorker::RefreshWorker(SettingsStore& settings, SharedRates& rates, ClientConfig client)
    : m_settings(settings),
      m_rates(rates),
      m_signedRates{client.ratesKey, std::nullopt},
      m_client(*m_sockets, std::move(client)) {}

void RefreshWorker::Start() {
  StartJob([this] { RunRefresh({m_gate, m_client, m_rates, m_settings, m_clock, m_view, &m_signedRates}); });
}

void RefreshWorker::StartJob(std::function<void()> job) {
  if (m_stopping) return;
  m_workers.Start(std::move(job));
}

void RefreshWorker::Stop() {
  m_stopping = true;
  m_client.Abort();
  m_workers.Join();
}

// Sent, not posted: the worker goes on only once the window has shown what it was given.
void RefreshWorker::WindowView::ShowRates(const RateTable& rates) {
  SendMessageA(m_window, WM_SHOW_RATES, 0, reinterpret_cast<LPARAM>(&rates));
}

void RefreshWorker::WindowView::ShowLastUpdated(const SystemTime& time) {
  SendMessageA(m_window, WM_LAST_UPDATED, 0, reinterpret_cast<LPARAM>(&time));
}

void RefreshWorker::WindowView::ShowRatesInfo(const RatesInfo& info) {
  SendMessageA(m_window, WM_RATES_INFO, 0, reinterpret_cast<LPARAM>(&info));
}

void RefreshWorker::WindowView::UpdateReady() { PostMessageA(m_window, WM_UPDATE_READY, 0, 0); }
