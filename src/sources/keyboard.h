// Keyboard and bar-code scanner entry of one MAC: hexadecimal digit keys
// only, echoed in pairs joined by "-", ending by itself after the 12th
// digit; ESC abandons the entry.
#ifndef TALVEK_SOURCES_KEYBOARD_H
#define TALVEK_SOURCES_KEYBOARD_H

#include "TALVEK.h"

constexpr int kKeyInSize = 13;  // 12 digits and a terminator

// 1 when a character is waiting on standard input (it stays waiting), else 0.
int kbhit();

// Collects 12 digits into KeyInBuffer (kKeyInSize bytes). 0 when done;
// 1 when ESC ended the entry (the buffer holds the digits so far and the
// ESC character) or standard input ended (the digits so far).
int WaitOneMacKeyIn(char *KeyInBuffer);

// Prompts for and stores the MAC of position Index (0 or 1). 0 when stored;
// 1 when the entry was abandoned, after a message.
int GetMacFromKb(int Index, TALVEK_DATA *data);

// Discards the unread input of a terminal (tcflush TCIFLUSH) once this run
// has taken a keyboard entry from it: the rest of a scan, an arrow key's
// tail or an extra digit must not reach the station's shell as a command.
// Called when the run's last entry has ended and again before exit, never
// between two entries of a run. Pipes and files are left alone.
void DiscardUnreadKeys();

#endif
