// The count of the backend's live Direct3D objects (object.h).
#include "platform/gl/d3d11/object.h"

#include "platform/gl/backend.h"

namespace d3d11gl {

int liveObjects = 0;

} // namespace d3d11gl

int LiveObjectCount() {
    return d3d11gl::liveObjects;
}
