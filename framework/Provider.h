#pragma once

// Root of everything a plug-in library hands to the host through its
// exported `get_providers` function. The host keeps providers in
// std::shared_ptr and destroys them through this destructor.
class Provider {
public:
    virtual ~Provider() {}
};
