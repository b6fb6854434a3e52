#include "detect/product_files.h"

#include "platform/text.h"

namespace zv {

bool IsCarriedFile(const char* name) {
    static const char* const kCarried[] = {kAct16Name, kSa16Name, kSv16Name, kAct32Name, kSa32Name, kSv32Name};
    for (const char* carried : kCarried) {
        if (EqualNoCase(name, carried)) return true;
    }
    return false;
}

}  // namespace zv
