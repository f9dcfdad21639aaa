#ifndef TESSARINE_RUN_COCO_NAMES_H
#define TESSARINE_RUN_COCO_NAMES_H

#include <string>

// The 80 COCO class names in the order of YOLOv8's class rows; "class N"
// for an id outside them.
std::string CocoClassName(int class_id);

#endif
