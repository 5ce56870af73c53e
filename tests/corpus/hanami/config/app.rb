module Bookshelf
  class App < Hanami::App
  end
end
