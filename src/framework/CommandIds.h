#pragma once
// Command ids the framework answers itself, for the C++ code and the resource compiler alike.

// The standard help command ("&Help" buttons carry it).
#define IDC_HELP_COMMAND 57670
