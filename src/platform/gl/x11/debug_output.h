// GL's own debug output (KHR_debug, core since GL 4.3), turned on in debug
// builds so that a GL error is reported by the call that makes it.
#pragma once

// Routes the current context's errors and high-severity messages to the
// backend's error channel (ReportBackendError), synchronously, so that a
// debugger stopped there sees the call that failed. The context should be a
// debug one (GLX_CONTEXT_DEBUG_BIT_ARB), where drivers report the most.
void EnableGlDebugOutput();
