// The user interface: the progress dialog, the question dialog, the dialog
// font and the message pump.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "resource_ids.h"

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK questionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Gives the dialog's controls the normal-weight dialog font (made once).
void applyDialogFont(HWND dialog);
// Dispatches every window message waiting in the queue, without waiting.
void pumpPendingMessages();
// Moves the bar to `percentage` (clamped to 100) and pumps, unless the value
// is the one last sent.
void setProgress(uint32_t percentage);

// The bar's layout: a span for each pass that reports, an entry a step, in the
// order the spans lie on the bar. The group file and group folder passes share
// theirs; the pruning pass runs before the registry pass, yet its span comes last.
enum ProgressSpan { SPAN_FILES, SPAN_GROUPS, SPAN_REGISTRY, SPAN_PRUNING, SPAN_COUNT };
// The steps of the whole bar, for progressTotal.
uint32_t progressSteps();
// Reports entry `k` (from 0) of a span, unless progressTotal is 0 (no bar).
void reportProgress(ProgressSpan span, uint32_t k);
// Shows text `index` as the progress dialog's stage.
void setStageText(int index);
// The four-button question about a write-protected file: IDYES, IDC_YESTOALL,
// IDNO, IDC_NOTOALL or another command id; IDC_YESTOALL without a window when
// the text is empty; IDNO when it cannot be shown, and without a window when
// unattended. Logged with its answer.
int askQuestion(const char* path);
// Whether the process's window station is one a user sees (NT; 9x has no other).
bool isStationVisible();
