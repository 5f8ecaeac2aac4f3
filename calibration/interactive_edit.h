// Interactive editing of one point's DAC or ADC count: key by key, each change sent to the
// device at once while the read register is shown. Console thread only.
#pragma once

// Runs the key loop for entry 1 to 5 until q or Q, end of input, a read error or Ctrl-C.
// Keys are single bytes read from the stdio stream stdin, so bytes an earlier line read left
// in its buffer are seen. On a terminal, canonical input and echo are off for the duration
// and the saved attributes are restored on every way out.
void calib_interactive_edit(int entry);
