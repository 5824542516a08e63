// Meta-type registration of the records carried by item views.
#include "ui/UiMetaTypes.h"

void RegisterUiMetaTypes() {
    qRegisterMetaType<FILE_NODE>("FILE_NODE");
    qRegisterMetaType<PARTITION_ITEM>("PARTITION_ITEM");
}
