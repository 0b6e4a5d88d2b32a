#pragma once
// The three ways to reach a unit, for the link layer, the link health and the front ends.

namespace plv {

enum class LinkKind { Serial, Ethernet, Usb };

} // namespace plv
