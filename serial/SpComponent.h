#pragma once
// TSpComponent: the minimal component base: owner, name, tag, loading / destroying / design state,
// and the removal notifications between components that refer to each other.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

enum TOperation : std::uint8_t { opInsert, opRemove };

class TSpComponent {
 public:
  explicit TSpComponent(TSpComponent* owner = nullptr);
  TSpComponent(const TSpComponent&) = delete;
  TSpComponent& operator=(const TSpComponent&) = delete;
  // Tells every component registered through FreeNotification that this one goes away.
  virtual ~TSpComponent();

  TSpComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(std::string name) { FName = std::move(name); }
  std::int32_t Tag() const { return FTag; }
  void SetTag(std::int32_t tag) { FTag = tag; }

  bool IsLoading() const { return FLoading; }
  bool IsDestroying() const { return FDestroying; }
  // There is no form designer here: always false.
  bool IsDesigning() const { return false; }

  // Loading state while stored properties are read; Loaded ends it.
  void BeginLoading() { FLoading = true; }
  // End-of-loading hook: the base clears the loading state.
  virtual void Loaded();

  // `component` is told (Notification with opRemove) when this one is destroyed, and this one
  // when `component` is destroyed.
  void FreeNotification(TSpComponent* component);
  void RemoveFreeNotification(TSpComponent* component);

 protected:
  // Marks the component as being destroyed; derived destructors call this first.
  void Destroying() { FDestroying = true; }
  // Removal-notification hook; the base does nothing.
  virtual void Notification(TSpComponent& component, TOperation operation);

 private:
  void Unlink(TSpComponent* component);

  TSpComponent* FOwner;
  std::string FName;
  std::int32_t FTag = 0;
  bool FLoading = false;
  bool FDestroying = false;
  std::vector<TSpComponent*> FFreeNotifies;
};
