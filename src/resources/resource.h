#pragma once
// Resource ids of the program. Control ids of each dialog live beside the dialog's class.
#define IDS_ABOUTBOX 101
