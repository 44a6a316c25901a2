#include "TamberloMac/Playback/Player.h"

#include "TamberloMac/Interface/NotifyManager.h"

namespace tamberlo {

Player& Player::shared() {
    static Player player;
    return player;
}

void Player::setSelectMusic(std::shared_ptr<MusicModel> music) {
    selectMusic_ = std::move(music);
    NotifyManager::post(NotifyManager::SelectedMusicDidChange());
}

}  // namespace tamberlo
