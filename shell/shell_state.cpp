#include "shell/shell.h"

namespace zv {

Shell g_Shell;

}  // namespace zv
