#pragma once
// The entry point of the canvas module (velmora-canvas.so): the ten
// canvases, with the Qt application they need made on the first call.
#include "engine/canvas_services.h"

#define VELMORA_CANVAS_MODULE_ENTRY "velmora_canvas_open"
using VelmoraCanvasOpen = velmora::engine::CanvasServices *(*)();
