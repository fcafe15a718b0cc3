// Port settings dialog and About box of the Win32 window.
#pragma once

void RunPortDialog();
void ShowAboutBox();
