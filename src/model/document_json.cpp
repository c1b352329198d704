#include "model/document_json.h"

namespace vantry {}  // namespace vantry
