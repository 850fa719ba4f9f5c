// Symbol visibility of the porting layer's shared library.
#pragma once

#define PLAT_API __attribute__((visibility("default")))
