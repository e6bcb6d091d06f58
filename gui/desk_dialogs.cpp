#include "gui/desk_dialogs.h"

namespace velto {

DeskDialogs MakeDeskDialogs(CServerFacade&) { return {}; }

}  // namespace velto
