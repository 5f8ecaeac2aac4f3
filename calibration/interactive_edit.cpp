#include "calibration/interactive_edit.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "calibration/calibration.h"
#include "core/input.h"
#include "core/lifecycle.h"
#include "registers/catalogue.h"

namespace {

// Terminal attributes of stdin saved before the key loop; restored on every way out.
class key_mode {
 public:
  key_mode() {
    int fd = fileno(stdin);
    if (!isatty(fd) || tcgetattr(fd, &saved_) != 0) return;
    termios raw = saved_;
    // Keys arrive one by one without echo; the signal keys stay, so Ctrl-C still interrupts.
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(fd, TCSANOW, &raw) == 0;
  }
  ~key_mode() {
    if (active_) tcsetattr(fileno(stdin), TCSANOW, &saved_);
  }
  key_mode(const key_mode&) = delete;
  key_mode& operator=(const key_mode&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

// The read register shown with the point: the selected definition's, when it is in the
// catalogue.
const modbus_reg_entry* read_register_row() {
  const cal_definition* def = calib_selected_definition();
  if (def == nullptr || def->iRegRead == 0) return nullptr;
  int index = reg_find_by_address(def->iRegRead);
  return index < 0 ? nullptr : &modbus_reg_table[index];
}

}  // namespace

void calib_interactive_edit(int entry) {
  printf("Press %c : increase ADC/DAC\n", 'V');
  printf("      %c : decrease ADC/DAC\n", 'v');
  printf("    r/R : re-read calibration read register\n");
  printf("    q/Q : exit\n");

  const modbus_reg_entry* row = read_register_row();
  int reg_read = row ? row->address : 0;
  calib_point& point = calib_session.points[entry - 1];
  calib_print_point(entry, reg_read, row);

  key_mode mode;
  while (!quit_requested.load()) {
    if (wait_for_input() < 0) break;
    int c = getc(stdin);
    if (c == EOF) {
      // Ctrl-C (EINTR) or a read error: the console's next read must not see a stale error
      // flag; end of input stays visible so the console ends too.
      if (ferror(stdin) && !feof(stdin)) clearerr(stdin);
      break;
    }
    if (c == 'q' || c == 'Q') break;
    if (c == 'r' || c == 'R') {
      calib_print_point(entry, reg_read, row);
    } else if (c == 'V' || c == 'v') {
      uint16_t step = static_cast<uint16_t>(calib_session.iCurStep & 0xFFFF);
      point.wDacAdc = static_cast<uint16_t>(c == 'V' ? point.wDacAdc + step : point.wDacAdc - step);
      calib_send_to_device(false);
      calib_print_point(entry, reg_read, row);
    }
  }
}
