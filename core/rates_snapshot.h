#pragma once

#include "local_clock.h"
#include "settings_store.h"
#include "snapshot.h"

// Reads the stored snapshot into `snapshot`; anything but an 88-byte value leaves it untouched.
bool LoadRatesSnapshot(SettingsStore& store, RatesSnapshot& snapshot);

// Stamps the current local time into `snapshot.lastUpdate` (zeros when the clock gives no valid
// time) and stores the snapshot. The result is the store's; the stamp is set either way.
bool SaveRatesSnapshot(SettingsStore& store, LocalClock& clock, RatesSnapshot& snapshot);
