// The listing files the objects hold (DirectoryListing.cpp), kept beside
// the objects; an object's goes with the object (~CGLSocket).
#pragma once

// Deletes the object's listing file, if the name is still its own, and
// gives up its hold on it.
void DropListingOf(const void* object);
