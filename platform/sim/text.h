// UTF-8 <-> UTF-16 for the simulated device: the conversions the observed
// platform uses too, so both worlds write their texts alike.
#pragma once

#include "platform/observed/text.h"

namespace qx::sim {

using observed::ByteText;
using observed::InvalidUtf8At;
using observed::Utf16;
using observed::Utf8;

}  // namespace qx::sim
