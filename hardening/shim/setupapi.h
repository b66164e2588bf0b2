// Included by shell/handles.h; what it needs is in windows.h.
