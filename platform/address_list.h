#pragma once
// Owns a getaddrinfo result list, so that every exit frees exactly what the
// lookup got and nothing it never got. Included by the socket backends after
// their own system headers, which declare addrinfo and freeaddrinfo alike.

namespace tavro::platform {

class AddressList {
 public:
  AddressList() = default;
  ~AddressList() {
    if (list_ != nullptr) ::freeaddrinfo(list_);
  }
  AddressList(const AddressList&) = delete;
  AddressList& operator=(const AddressList&) = delete;
  addrinfo** out() noexcept { return &list_; }
  const addrinfo* first() const noexcept { return list_; }

 private:
  addrinfo* list_ = nullptr;
};

}  // namespace tavro::platform
