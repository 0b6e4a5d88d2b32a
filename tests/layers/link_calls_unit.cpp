// Planted: the link layer calling into the unit layer above it, declared by hand so that
// the include rule does not see it. Must not link where only the link layer is linked.
namespace plv {
class Unit {
public:
    void resetHours();
};
} // namespace plv

void plantedUpwardCall(plv::Unit &unit) { unit.resetHours(); }
