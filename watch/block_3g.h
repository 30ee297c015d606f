// The 3G block: moving the carrier's phone-book entry between its allowed form
// ("DevCfg", "Entry") and its blocked form ("NoDevCfg", "NoEntry"). The watch-tick step
// that lets the carrier's mail client through, CMainDlg::CheckTmailPassThrough, is
// built on it and lives beside it in block_3g.cpp.
#pragma once

#include "platform/windows.h"

// Moves the entry of AppSettings.carrier to the allowed form (allow non-zero) or the
// blocked form (0). An entry already in that form is left unchanged, and one that a
// refused move left part-way is completed; no value is ever written from data that was
// not read, nor deleted before its copy was written. Returns false when the registry
// refused a write or a deletion (the platform's error code is then the last error); a
// phone without the entry has nothing to store.
bool Apply3GState(LONG allow);

// At start: completes a move to the given form that the registry refused part-way in an
// earlier run, so that the entry is whole again. Changes nothing in any other entry.
void FinishPhoneBookMove(LONG allow);
