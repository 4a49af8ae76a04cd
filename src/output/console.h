// Fixed console texts: version banner, usage text, PASS and FAIL banners.
#ifndef TALVEK_OUTPUT_CONSOLE_H
#define TALVEK_OUTPUT_CONSOLE_H

void ShowVersion();
void ShowUsage();
void ShowBigPass();
void ShowBigFail();
// true once ShowBigFail has run: a run that is interrupted after its FAIL
// verdict shows no second banner.
bool FailBannerShown();

#endif
