#pragma once

// The controller that owns the devices. Devices receive a weak reference to
// it at initialisation; plug-ins never look inside.
class SMDController;
