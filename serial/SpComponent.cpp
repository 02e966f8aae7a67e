#include "serial/SpComponent.h"

#include <algorithm>

TSpComponent::TSpComponent(TSpComponent* owner) : FOwner(owner) {}

TSpComponent::~TSpComponent() {
  FDestroying = true;
  while (!FFreeNotifies.empty()) {
    TSpComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    other->Unlink(this);
    other->Notification(*this, opRemove);
  }
}

void TSpComponent::Loaded() {
  FLoading = false;
}

void TSpComponent::FreeNotification(TSpComponent* component) {
  if (component == nullptr || component == this) {
    return;
  }
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) == FFreeNotifies.end()) {
    FFreeNotifies.push_back(component);
    component->FFreeNotifies.push_back(this);
  }
}

void TSpComponent::RemoveFreeNotification(TSpComponent* component) {
  if (component == nullptr) {
    return;
  }
  Unlink(component);
  component->Unlink(this);
}

void TSpComponent::Notification(TSpComponent& /*component*/, TOperation /*operation*/) {}

void TSpComponent::Unlink(TSpComponent* component) {
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), component),
                      FFreeNotifies.end());
}
