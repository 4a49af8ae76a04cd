// Line mode: a station whose directory holds TALVEK.conf (whether or not it
// turns the MAC registry on) is a line station, and TALVEK speaks more
// plainly there: a reason line before every FAIL banner, the FAIL banner on
// every failed run, the offset mode's MAC held to the allow-list. A station
// without the file prints, sends and writes exactly what it always did.
#ifndef TALVEK_RUN_LINE_MODE_H
#define TALVEK_RUN_LINE_MODE_H

// Decides once, at the start of a run, whether this is a line station, and
// switches the reason lines on for it. A TALVEK.conf that exists but cannot
// be read still makes one (the run then fails on it, with its reason).
void StartLineMode();

// 1 on a line station (as StartLineMode found it).
int LineStation();

#endif
