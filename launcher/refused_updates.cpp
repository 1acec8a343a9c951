#include "refused_updates.h"

#include "update/library_contract.h"

std::wstring WithRefusedUpdate(std::wstring_view refused, std::wstring_view version) {
  const bool plain = !version.empty() && version.find(L';') == std::wstring_view::npos;
  std::wstring list(refused);
  if (!list.empty()) list += L';';
  list += plain ? version : std::wstring_view(REFUSE_EVERY_UPDATE);
  return list;
}
