module Bookshelf
  module Actions
  end
end
