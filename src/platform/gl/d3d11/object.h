// The reference counting every Direct3D object of the Linux backend shares,
// and the count of live objects that LiveObjectCount (backend.h) reports.
#pragma once

#include "platform/platform.h"

#include <cstdint>

namespace d3d11gl {

extern int liveObjects;

// D3D's reference discipline: an object starts with one reference, its
// creator's. What the pipeline binds and what one object needs of another is
// held by a pin, which, like the runtime's internal references, does not show
// in the counts AddRef and Release return. The object (and its GL names) goes
// when both are gone.
template <class Interface> class Object : public Interface {
  public:
    Object() { ++liveObjects; }
    ~Object() override { --liveObjects; }
    Object(const Object &)            = delete;
    Object &operator=(const Object &) = delete;

    uint32_t STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    uint32_t STDMETHODCALLTYPE Release() override {
        // One release too many while the pipeline still holds the object:
        // ignored, so the count never wraps.
        if (refs_ == 0) return 0;
        const uint32_t left = --refs_;
        if (left == 0 && pins_ == 0) delete this;
        return left;
    }
    void Pin() { ++pins_; }
    void Unpin() {
        if (--pins_ == 0 && refs_ == 0) delete this;
    }

  private:
    uint32_t refs_ = 1;
    uint32_t pins_ = 0;
};

// Points a pinned slot at another object (or none).
template <class T> void Hold(T *&slot, T *object) {
    if (object) object->Pin();
    if (slot) slot->Unpin();
    slot = object;
}

class Device;

// Everything the device makes keeps the device, and so the GL context, alive
// (the constructor and destructor are in device.h).
template <class Interface> class Child : public Object<Interface> {
  public:
    explicit Child(Device *owner);
    ~Child() override;
    Device *const device;
};

} // namespace d3d11gl
