#include "com/class_table.h"

#include "com/class_id.h"
#include "driver/vantrel.h"

namespace tavro::com {

const ClassEntry kClassTable[] = {
    {u"TAVROStreamer", &kClsidTavroDriver, &driver::Vantrel::create},
};
const size_t kClassTableLength = sizeof kClassTable / sizeof kClassTable[0];

}  // namespace tavro::com
