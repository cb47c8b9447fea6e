// Hidden hooks for making the README's screenshots and measuring the
// running instrument under a virtual X server, where nobody can click:
//   TARNBY_AUTO_ON=h,p,b,s,t,g  sets the six sliders (heading, pitch, bank,
//                               slip, turn, G) and presses ON at start;
//   TARNBY_AUTO_CONNECT=1       presses Connect at start (before ON);
//   TARNBY_SCREENSHOT=file.png  saves the window's picture after
//                               TARNBY_SCREENSHOT_DELAY ms (default 1500),
//                               then closes the window.
// Without them the program behaves exactly as it does for a user.
#pragma once

class TForm1;

void install_automation(TForm1& form);

// The program's exit status as far as the hooks are concerned: 1 once one
// of them could not do what it was asked (a value that is not a number, a
// screenshot that could not be written; each said so in one line on
// standard error), else 0. A scripted run must not pass for a good one.
int automation_exit_status();
